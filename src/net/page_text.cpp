#include "page_text.h"
