// The sector editor of the page, for the front ends in one include:
// Previous/Next, Write Changes, Go to a Sector, row editing and the row menu.
// Each command is one call; the front end gathers input and shows the page.
#pragma once
#include "views/dump_modes.h"
#include "views/page_navigation.h"
#include "views/row_edit.h"
#include "views/sector_jump.h"
#include "views/write_changes.h"
