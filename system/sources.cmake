# Sources of the platform subsystem that registration and uninstall build on, relative
# to the project root.
set(SYSTEM_SOURCES
    system/component_runner.cpp
    system/machine_environment.cpp
    system/server_check.cpp
    system/program_folder.cpp
    system/code_page.cpp
)
