// Compiled by the layer check (CMakeLists.txt): found in a library that links
// orderlink_download, not found in one that links only orderlink_common.
#include "download/DownloadWire.h"
