#include "supervision/launch_rules.h"

LaunchFallback FallbackForLaunchError(uint32_t createError, bool bUserStartPending) {
    if (createError == kErrorElevationRequired)
        return bUserStartPending ? LaunchFallback::ShellElevated : LaunchFallback::NeedsElevation;
    if (createError == kErrorBadExeFormat) return LaunchFallback::Shell;
    return LaunchFallback::None;
}
