# Warnings for every target of the project; third-party headers come in as system headers.
set(CARDMILL_WARNINGS
    -Wall -Wextra -Wpedantic $<$<CXX_COMPILER_ID:GNU>:-Wshadow=local> -Wnon-virtual-dtor -Woverloaded-virtual
    -Wimplicit-fallthrough -Wcast-qual -Wformat=2 -Wno-format-y2k -Wundef)
if(CARDMILL_WERROR)
    list(APPEND CARDMILL_WARNINGS -Werror)
endif()

function(cardmill_warnings target)
    target_compile_options(${target} PRIVATE ${CARDMILL_WARNINGS})
endfunction()
