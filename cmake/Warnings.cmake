# Strict warnings for our own code; third-party headers are included as SYSTEM.
function(pixolund_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Werror -Wformat=2
        -Wnon-virtual-dtor -Woverloaded-virtual)
endfunction()
