#include "window_model.h"

#include "control.h"
#include "front.h"
