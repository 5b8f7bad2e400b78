.\" How the QLogic build finds adapters and firmware and what it runs; part of DESCRIPTION.
The adapters are found through the SNIA HBA API libraries listed in
.IR /etc/hba.conf ,
the QLogic management library (PCI location) and sysfs (PCI ids).
The active boot image of each adapter is read from the output of
.B ./qlafwupdate /q
(the lines
.BR "HBA Instance" ,
.B "Port Name"
and
.BR "Flash Image" ),
matched to the adapter by its port WWN.
The flash engine is
.B ./qlafwupdate
with
.B /s
and
.B /f
passed on when given.
