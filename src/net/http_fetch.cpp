#include "http_fetch.h"
