# Sources of the registration subsystem, relative to the project root.
set(REGISTRATION_SOURCES
    registration/drop_intake.cpp
    registration/cabinet_extraction.cpp
    registration/cabinet_check.cpp
    registration/unpack_process.cpp
)
