# Warnings for every target of the project; third-party headers come in as system headers.
set(CARDMILL_WARNINGS
    -Wall -Wextra -Wpedantic $<$<CXX_COMPILER_ID:GNU>:-Wshadow=local> -Wnon-virtual-dtor -Woverloaded-virtual
    -Wimplicit-fallthrough -Wcast-qual -Wformat=2 -Wno-format-y2k -Wundef)
# g++ 12 at -O3 takes "text" + a temporary std::string for an overlapping copy (a false
# -Wrestrict inside libstdc++, fixed in later versions): with warnings as errors every such line
# would break a packager's Release build.
list(APPEND CARDMILL_WARNINGS
    $<$<AND:$<CXX_COMPILER_ID:GNU>,$<VERSION_LESS:$<CXX_COMPILER_VERSION>,13>>:-Wno-restrict>)
if(CARDMILL_WERROR)
    list(APPEND CARDMILL_WARNINGS -Werror)
endif()

function(cardmill_warnings target)
    target_compile_options(${target} PRIVATE ${CARDMILL_WARNINGS})
endfunction()
