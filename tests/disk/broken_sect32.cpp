// A sector library with one entry point left out, to test the binding's
// messages. Which one is chosen by a WITHOUT_<name> definition.
#include <cstdint>

#define EXPORT extern "C" __attribute__((visibility("default")))

#ifndef WITHOUT_ReadSect32
EXPORT uint32_t ReadSect32(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, void*, uint32_t,
                           uint32_t) {
  return 0;
}
#endif
#ifndef WITHOUT_WriteSect32
EXPORT uint32_t WriteSect32(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, const void*,
                            uint32_t, uint32_t) {
  return 0;
}
#endif
#ifndef WITHOUT_ReadSect64
EXPORT uint32_t ReadSect64(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, void*, uint64_t,
                           uint32_t) {
  return 0;
}
#endif
#ifndef WITHOUT_WriteSect64
EXPORT uint32_t WriteSect64(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, const void*,
                            uint64_t, uint32_t) {
  return 0;
}
#endif
#ifndef WITHOUT_CheckInt13Extension32
EXPORT uint32_t CheckInt13Extension32(uint32_t) { return 0; }
#endif
#ifndef WITHOUT_Sect32OpenDrives
EXPORT uint32_t Sect32OpenDrives(const char*) { return 1; }
EXPORT uint32_t Sect32FloppyCount() { return 0; }
#endif
