.\" How the Emulex build finds adapters and firmware and what it runs; part of DESCRIPTION.
It does not use the HBA API: it unpacks the Emulex flash kit
.I elxflashStandalone*.zip
in the working folder with
.BR unzip ,
prints
.BR "Preparing the Emulex Kit...done" ,
and reads the adapters, their ids, firmware and boot code versions from the
lines
.B HBA=...
of
.BR "./elxflashStandalone*/lx/elxflash.sh /q /sysfs" .
The flash engine is the same script with
.B /update
(or
.B /f
when forced); after it a result line such as
.B "All updates were successful.  Reboot needed."
is printed.
Adapters of the LPe160, LPe320, LPe310, LPe350 and LPe360 families are
compared against firmware 12.0.346.48 whatever the catalogue says.
