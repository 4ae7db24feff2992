#include "update/UpdateState.h"

#include <ostream>

std::ostream& operator<<(std::ostream& out, UpdateState state)
{
    const char* name = "?";
    switch (state) {
    case UpdateState::Waiting:
        name = "Waiting";
        break;
    case UpdateState::Checking:
        name = "Checking";
        break;
    case UpdateState::Installing:
        name = "Installing";
        break;
    case UpdateState::InstallerFinished:
        name = "InstallerFinished";
        break;
    case UpdateState::Ending:
        name = "Ending";
        break;
    }
    return out << name << " (" << static_cast<int>(state) << ")";
}
