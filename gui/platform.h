// The few operating-system services the editor needs, behind names of its own.
#ifndef QUILLANE_GUI_PLATFORM_H
#define QUILLANE_GUI_PLATFORM_H

// Creates the folder path (one level). Returns 0 on success or when it already exists,
// otherwise the system's error number.
int create_directory(const char* path);

// Folder of the editor's per-user files: $APPDATA when set, else the XDG configuration
// folder. Newly allocated (g_free).
char* user_application_data_dir();

// Gives the calling thread, and the threads it starts from now on, a lower scheduling priority
// (nice 10), so that work in the background leaves the processor to the window. Nothing where
// the system cannot do it.
void lower_thread_priority();

#endif
