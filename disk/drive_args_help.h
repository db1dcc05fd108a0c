// The drive arguments ParseDriveArgs (drive_map.h) takes, as both programs'
// --help list them, gleaner's and gleaner-cli's: one option a line, its text
// from column 20. Their order is the BIOS order, and --mapfile follows the
// drive it belongs to.
#pragma once

inline constexpr const char* kDriveArgsHelp =
    "  --floppy FILE     a floppy image or device (drives 0, 1, ...)\n"
    "  --disk FILE       a hard-disk image or device (drives 0x80, 0x81, ...)\n"
    "  FILE              a floppy when it is /dev/fd* or of a standard floppy size,\n"
    "                    otherwise a hard disk\n"
    "  --read-only       open every drive read-only: a write is refused with \"The\n"
    "                    drives are open read-only: nothing is written to them.\"\n"
    "  --direct          reach the drives directly instead of through libsect32.so\n"
    "  --undo-dir DIR    keep the undo files of this run's writes in DIR (default\n"
    "                    $XDG_STATE_HOME/gleaner/undo, else ~/.local/state/gleaner/undo)\n"
    "  --no-undo         write without keeping undo files\n"
    "  --mapfile FILE    after a drive: the GNU ddrescue mapfile of its image; every\n"
    "                    sector outside the map's finished (+) blocks fails to read\n"
    "                    and to write, as on the dying disk (sectors the map does\n"
    "                    not cover count as untried)\n"
    "  With no drive named, the system's block devices are used.\n"
    "  A hard disk is shown by what its first sector holds: an MBR's partitions, a\n"
    "  GPT's partitions (protective MBR), or one volume filling the whole disk.\n";
