.\" How the Brocade build finds adapters and firmware and what it runs; part of DESCRIPTION.
The adapters are found through the SNIA HBA API libraries listed in
.IR /etc/hba.conf ,
the Brocade management library (PCI location) and sysfs (PCI ids).
The active boot BIOS version of each adapter is the dotted quad in the option
ROM version the library reports
(\fBBIOS 3.0.3.2 (x86)\fR reads as \fB3.0.3.2\fR), each number whole
(\fBBIOS_10.1.0.0_(x86)\fR reads as \fB10.1.0.0\fR, newer than \fB3.2.0.0\fR);
with several, the last.
The flash engine is
.B ./bcu_bootupdate boot \-\-update bfa_boot_fw \-a
whatever the options.
