#include "control.h"

#include "front.h"
#include "window_model.h"
