#include "realtime/RealtimeClientInterface.h"
