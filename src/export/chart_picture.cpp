#include "chart_picture.h"
