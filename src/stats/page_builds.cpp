#include "page_builds.h"
