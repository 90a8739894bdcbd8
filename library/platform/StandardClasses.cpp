#include <mutex>

#include "Controls.h"
#include "internal/Core.h"

namespace wplat::detail {

void registerStandardClasses()
{
    // Every program finds the standard control classes ready, the first
    // window it creates included.
    static std::once_flag once;
    std::call_once(once, [] { registerControlClasses(); });
}

} // namespace wplat::detail
