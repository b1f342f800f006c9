#include "modglobal.h"
