// Defines the GUIDs declared by the generated interface header.
#include <initguid.h>

#include "ZuvoFileSharing.h"
