#include "tools/pack_system.h"

#include "tools/system.h"

int packOpenInput(const std::string& path, uint32_t* error) {
  const int fd = sysOpenInput(path);
  if (fd < 0) *error = sysLastError();
  return fd;
}

bool packListFolder(const std::string& path, std::vector<std::string>* names, uint32_t* error) {
  if (sysListFolder(path, names)) return true;
  *error = sysLastError();
  return false;
}
