#include "resources.h"

#include <QtGlobal>

// Q_INIT_RESOURCE names a function of the global namespace.
static void InitResources() {
    Q_INIT_RESOURCE(resources);
}

namespace logdesk {

void RegisterResources() {
    InitResources();
}

} // namespace logdesk
