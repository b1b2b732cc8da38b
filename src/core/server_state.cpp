#include "core/server_state.h"

ServerStatus serverStatus{};
ServerSettings serverSettings{};
std::atomic<platform::TimedMutex*> statusMutex{nullptr};
std::atomic<platform::TimedMutex*> messageMutex{nullptr};
