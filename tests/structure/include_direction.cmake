# Fails when a file under src/ includes a header of a folder above its own.
#   cmake -DSRC=<source>/src -P include_direction.cmake
#
# The folders, lowest first. A folder may include its own headers and those of any
# folder before it, never one after it: a lower folder that reached up would pull the
# whole runtime (wizard, engine) into the uninstaller and into every unit test.
set(QV_LAYERS
    # Portable C++ without windows.h, shared with the builder's native Linux build.
    common
    # Thin wrappers over Win32 that know nothing of a setup run.
    platform
    # Reading INI files and splitting records: every later folder reads configuration.
    config
    # The run context and its ends (FailSetup, AbortSetup, clean-up), the log and the
    # [Setup] keys: what every folder of a setup run is handed.
    run
    # The setup file's layout and the cabinet reader, used at start-up and by placement.
    package
    # Expansion of path constants and user variables, and language texts.
    text
    # Facts about the machine and the requirement checks; they expand texts.
    sysinfo
    # The uninstall record and installed-programs entry, written by items and engine.
    record
    # The item handlers ([Shortcuts], [Registry], ...), which record what they create.
    items
    # The removal engine: undoes recorded items (for the uninstaller and for rollback).
    removal
    # The installation run: file placement, commands, the order of the items.
    engine
    # The wizard window, which starts the installation run.
    wizard
    # The uninstaller program, on the removal engine.
    uninstall
    # The setup program's entry and start-up, which start the wizard or a silent run.
    app)

if(NOT SRC)
    message(FATAL_ERROR "usage: cmake -DSRC=<source>/src -P include_direction.cmake")
endif()

set(violations "")
set(unknown "")
file(GLOB folders LIST_DIRECTORIES true RELATIVE ${SRC} ${SRC}/*)
foreach(folder ${folders})
    if(NOT IS_DIRECTORY ${SRC}/${folder})
        continue()
    endif()
    list(FIND QV_LAYERS ${folder} own)
    if(own EQUAL -1)
        string(APPEND unknown "  src/${folder} has no place in the order\n")
        continue()
    endif()
    file(GLOB_RECURSE files ${SRC}/${folder}/*.h ${SRC}/${folder}/*.cpp ${SRC}/${folder}/*.rc)
    foreach(file ${files})
        file(STRINGS ${file} lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
        foreach(line ${lines})
            if(NOT line MATCHES "\"([A-Za-z0-9_]+)/")
                continue()
            endif()
            set(target ${CMAKE_MATCH_1})
            list(FIND QV_LAYERS ${target} rank)
            if(rank GREATER own)
                file(RELATIVE_PATH rel ${SRC} ${file})
                string(STRIP "${line}" line)
                string(APPEND violations "  src/${rel}: ${line} (${folder} is below ${target})\n")
            endif()
        endforeach()
    endforeach()
endforeach()

if(unknown OR violations)
    message(FATAL_ERROR "include direction broken:\n${unknown}${violations}")
endif()
list(LENGTH folders n)
message(STATUS "include direction holds for ${n} folders")
