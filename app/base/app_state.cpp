#include "app/base/app_state.h"

AppState App;
