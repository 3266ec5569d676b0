// Sorting of report lists by a column.
#include "list_sort.h"
