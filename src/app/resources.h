// The program's icons and logo, compiled into a static library: Qt sees
// them only once they are registered.
#pragma once

namespace logdesk {

// Registers ":/icons/..."; call once, before the first window is built.
void RegisterResources();

} // namespace logdesk
