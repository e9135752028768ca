# Precompiled headers. Parsing Qt's headers is most of what a file of ours costs to compile,
# so two sets of them are compiled once per build tree: the Qt Core set, for the widget-free
# libraries and the programs on them, and the Qt Widgets set, for the widgets, the windows,
# the tests and the tools that show windows. Each set lives on a small target of its own;
# every other target reuses one (REUSE_FROM). The engine, plan and audio libraries get the
# Core set only, so a widget named there still fails to compile.
#
# GCC only: GCC takes a precompiled header whatever -D the command line adds that it does
# not use (each library defines its own QT_*_LIB), where clang refuses one. The fuzz preset
# (clang) builds without. -DTAMBERLO_PCH=OFF turns them off.
option(TAMBERLO_PCH "Precompile Qt's headers (GCC)" ON)

set(TAMBERLO_PCH_CORE_HEADERS
    <QByteArray> <QCoreApplication> <QDir> <QFileInfo> <QList> <QObject> <QString> <QStringList>
    <QTimer> <algorithm> <array> <cstdint> <functional> <memory> <optional> <vector>)
set(TAMBERLO_PCH_WIDGETS_HEADERS
    ${TAMBERLO_PCH_CORE_HEADERS} <QColor> <QComboBox> <QLineEdit> <QPainter> <QWidget>)

if(TAMBERLO_PCH AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    set(TAMBERLO_USE_PCH ON)
    file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/tamberlo_pch.cpp
         CONTENT "// Hosts a precompiled header (cmake/TamberloPch.cmake).\n")
    add_library(tamberlo_pch_core STATIC ${CMAKE_BINARY_DIR}/tamberlo_pch.cpp)
    target_link_libraries(tamberlo_pch_core PRIVATE Qt6::Core)
    target_precompile_headers(tamberlo_pch_core PRIVATE ${TAMBERLO_PCH_CORE_HEADERS})
    add_library(tamberlo_pch_widgets STATIC ${CMAKE_BINARY_DIR}/tamberlo_pch.cpp)
    target_link_libraries(tamberlo_pch_widgets PRIVATE Qt6::Widgets)
    target_precompile_headers(tamberlo_pch_widgets PRIVATE ${TAMBERLO_PCH_WIDGETS_HEADERS})
    set_target_properties(tamberlo_pch_core tamberlo_pch_widgets PROPERTIES
        AUTOMOC OFF AUTOUIC OFF AUTORCC OFF)
else()
    set(TAMBERLO_USE_PCH OFF)
endif()

# tamberlo_precompiled(<target> CORE|WIDGETS [OWN]): the target's files start from that set.
# OWN: the target compiles the set itself, for a target whose flags differ from the shared
# ones (GCC rejects a header precompiled under other -D or -pthread).
function(tamberlo_precompiled target set)
    if(NOT TAMBERLO_USE_PCH)
        return()
    endif()
    if(ARGV2 STREQUAL "OWN")
        target_precompile_headers(${target} PRIVATE ${TAMBERLO_PCH_${set}_HEADERS})
    elseif(set STREQUAL "CORE")
        target_precompile_headers(${target} REUSE_FROM tamberlo_pch_core)
    elseif(set STREQUAL "WIDGETS")
        target_precompile_headers(${target} REUSE_FROM tamberlo_pch_widgets)
    else()
        message(FATAL_ERROR "tamberlo_precompiled: CORE or WIDGETS, not ${set}")
    endif()
endfunction()
