// Resource identifiers of the options window's pictures, shared by the
// resource script and the Windows view.
#pragma once

#define IDI_FRM_OPTIONS 201
#define IDB_BANNER_TOP 202
#define IDB_BANNER_BOTTOM 203
