#include "def_qconsulta.h"
