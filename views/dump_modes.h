// The two dump switches of the Action menu. The tree selection reads them to
// choose a view; the editor commands read them to know whether the page is a
// sector editor. Raw sector dumping wins when both are on.
#pragma once

struct DumpModes {
  bool sectorDump = false;  // "&Sector/Cluster Dumping" checked
  bool rawDump = false;     // "Raw Sector &Dumping" checked
};
