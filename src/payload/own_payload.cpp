// The updater's own payload, read from the running executable.
#include "payload/extract.h"
#include "platform/platform.h"

namespace payload {

std::FILE* OpenPayload() { return plat::OpenOwnExecutable(); }

int ExtractPayload(const char* destination, Mode mode, Progress* progress, Failure* failure) {
  std::FILE* f = OpenPayload();
  if (!f) {
    *failure = Failure{};
    failure->fault = Fault::Container;
    return -1;
  }
  int r = ExtractFrom(f, destination, mode, progress, failure);
  std::fclose(f);
  return r;
}

}  // namespace payload
