#pragma once
// The desktop half of the tray program: the notification-area icon and the drawn main menu,
// installed as the controller's tray and menu views before start-up dresses the menu.

class TMainForm;

/// Makes the tray icon and the drawn menu (owned by Form) and installs them as Form's views.
void InstallTrayAndMenu(TMainForm &Form);
