#pragma once
// The dialogs of the desktop program, plugged into the controller: preferences, manage proxy
// list, the warning window, web links, and the proxy checker window when it is built in.

class TMainForm;

/// Installs the desktop dialogs as Form's dialog host (before Form.FormCreate runs). The host
/// lives as long as Form.
void InstallDialogs(TMainForm &Form);
