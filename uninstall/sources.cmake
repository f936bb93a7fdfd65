# Sources of the uninstall subsystem, relative to the project root.
set(UNINSTALL_SOURCES
    uninstall/installed_query.cpp
    uninstall/registry_tree.cpp
    uninstall/uninstall_plan.cpp
    uninstall/registry_backup.cpp
    uninstall/typelib_purge.cpp
    uninstall/registration_trees.cpp
    uninstall/class_checks.cpp
    uninstall/server_checks.cpp
    uninstall/control_uninstall.cpp
)
