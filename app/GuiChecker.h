#pragma once
// Opens the proxy checker window over the controller's configuration (desktop half of the program).

class TMainForm;

/// Runs a new checker window modally over both lists of Form's configuration, with the
/// controller's ProxyCheckingInProgress set for as long as it is open; a save stores the lists and
/// the filter and rebuilds the tray menu. Nothing happens while a checker window is already open.
void ExecCheckerWindow(TMainForm &Form);

/// True while a checker window is on screen.
bool CheckerWindowVisible();
