// The parts of a URL.
#include "url_parts.h"
