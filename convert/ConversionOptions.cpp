#include "convert/ConversionOptions.h"

ConversionOptions g_ConversionOptions;
