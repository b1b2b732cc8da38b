#include "core/server_state.h"

ServerStatus serverStatus{};
ServerSettings serverSettings{};
platform::TimedMutex* statusMutex = nullptr;
platform::TimedMutex* messageMutex = nullptr;
