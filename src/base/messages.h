// Texts of the base services, in one place.
#pragma once

namespace base::text {
extern const char kOutOfMemory[];
extern const char kOutOfMemoryCaption[];
extern const char kFfopenFailed[];  // %s: the name
}  // namespace base::text
