// Starting the game client, main.exe in the client folder.
#pragma once

// Starts main.exe with the client folder as its working directory and no
// arguments, then ends the launcher's message loop. When it cannot be
// started, shows one error box and leaves everything as it was.
void launchGame();
