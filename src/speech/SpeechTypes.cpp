#include "speech/MicTranscriberInterface.h"
#include "speech/RecordingTranscriberInterface.h"
