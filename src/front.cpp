#include "front.h"

#include "control.h"
#include "window_model.h"

int chatdraft_main(int, char**) { return 2; }
