// gleaner-cli's tree and show commands over a bound DiskAccess: the drive
// listing and node expansion of the tree pane, and the list pane after the
// tree selection.
#pragma once
#include <functional>
#include <ostream>
#include <string>

#include "disk/disk_access.h"
#include "views/dump_modes.h"
#include "views/view_page.h"
#include "views/view_context.h"

// Every node depth first, expanding every node that has children, in the
// order the children are made: two spaces of indent a level, then the label
// (made safe for a terminal as the cells of show are: a name read from a
// disk may hold control bytes). 0, or 1 when no drive was listed.
int PrintTree(DiskAccess& access, std::ostream& out, std::ostream& err);

// Shows the node named by nodePath (see node_path.h) in the given modes and
// prints the list pane: the column titles joined by tabs, then each row's
// cell texts joined by tabs, made safe for a terminal (SafeCellText).
// 0, or 1 when the node does not exist.
// beforePrint, when given, runs on the pane after the node is shown (the
// editor's paging commands of show --page and --goto) and says what to do:
// Print (status 0), PrintFailed (the page is printed as it could be read,
// status 1) or Refused (nothing printed, status 1).
enum class PageOutcome { Print, PrintFailed, Refused };
int PrintShownNode(DiskAccess& access, const std::string& nodePath, DumpModes modes,
                   std::ostream& out, std::ostream& err,
                   const std::function<PageOutcome(ViewContext&)>& beforePrint = {});

// The list pane as show prints it: the column titles joined by tabs, then
// each row's cell texts joined by tabs, made safe for a terminal.
void PrintPage(const ViewPage& pane, std::ostream& out);
