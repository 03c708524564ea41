# Warning flags: the library aims at -Wall -Wextra -Wpedantic -Wshadow
# -Wconversion; tests and examples at -Wall -Wextra -Wpedantic.
set(PK_COMMON_WARNINGS -Wall -Wextra -Wpedantic)
if(PK_WERROR)
  list(APPEND PK_COMMON_WARNINGS -Werror)
endif()

function(pk_library_warnings target)
  target_compile_options(${target} PRIVATE ${PK_COMMON_WARNINGS} -Wshadow -Wconversion)
endfunction()

function(pk_test_warnings target)
  target_compile_options(${target} PRIVATE ${PK_COMMON_WARNINGS})
endfunction()
