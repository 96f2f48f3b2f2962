#pragma once
// Starts the wizard; returns the process exit status.
int RunWizard(int argc, char** argv);
