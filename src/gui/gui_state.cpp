#include "gui/gui_state.h"

GuiProcessState& guiProcessState() {
    static GuiProcessState state;
    return state;
}
