#include "testing/scripted_dialog_views.h"
