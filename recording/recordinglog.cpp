#include "recording/recordinglog.h"

Q_LOGGING_CATEGORY(lcRecording, "kordo.recording")
