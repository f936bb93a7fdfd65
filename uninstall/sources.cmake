# Sources of the uninstall subsystem, relative to the project root.
set(UNINSTALL_SOURCES
    uninstall/installed_query.cpp
)
