#include "common/app_state.h"

AppState app;
