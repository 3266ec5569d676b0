#include "status_tables.h"
