#include "desktop/library_access.h"

#include "platform/access/veltris.h"

namespace veltris::desktop {

int32_t LibraryAccess::open(const char* computer) { return TapsorRpcOpen(computer); }
int32_t LibraryAccess::write(const char* request) { return TapsorRpcWrite(request); }
int32_t LibraryAccess::read(void* record, int32_t size) { return TapsorRpcRead(record, size); }
int32_t LibraryAccess::save(const char* path) { return TapsorRpcSave(path); }
int32_t LibraryAccess::close() { return TapsorRpcClose(); }

}  // namespace veltris::desktop
