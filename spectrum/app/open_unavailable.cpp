// Open BMP in a build without the BMP codec.
#include "spectrum/app/app_state.h"

namespace voralin {

void openImageCommand(AppState& app, HWND) {
    app.sink.ask("This build cannot read bitmap files.", "Open Error", frame::kIconError);
}

}  // namespace voralin
