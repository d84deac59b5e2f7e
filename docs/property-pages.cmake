# SPDX-License-Identifier: MIT
# Writes one reference page per store listing its properties, from the property
# contract tests/golden/properties.json (what `sessionctl list --json` prints from the
# tables, compared with them byte for byte by the test suite):
#   cmake -DCONTRACT=tests/golden/properties.json -DOUT=build/docs/properties -P docs/property-pages.cmake
# The description of each property is its enumerator's own documentation.
cmake_minimum_required(VERSION 3.19)
file(READ "${CONTRACT}" contract)
string(JSON count LENGTH "${contract}" properties)
math(EXPR last "${count} - 1")
set(domains)
foreach(i RANGE ${last})
  string(JSON row GET "${contract}" properties ${i})
  string(JSON full GET "${row}" name)
  string(REGEX REPLACE "^([^.]+)\\.(.*)$" "\\1;\\2" fields "${full}")
  list(GET fields 0 domain)
  list(GET fields 1 name)
  foreach(column number valueType stored key reset compared settable)
    string(JSON ${column} GET "${row}" ${column})
  endforeach()
  string(JSON secret ERROR_VARIABLE no_secret GET "${row}" secret)
  if(no_secret)
    set(secret false)
  endif()
  foreach(flag compared secret settable)
    if(${flag})
      set(${flag} yes)
    else()
      set(${flag} no)
    endif()
  endforeach()
  string(SUBSTRING "${domain}" 0 1 initial)
  string(TOUPPER "${initial}" initial)
  string(SUBSTRING "${domain}" 1 -1 rest)
  set(enum "${initial}${rest}Property")
  if(stored STREQUAL "none")
    set(where "run only")
  else()
    set(where "${stored}, `${key}`")
  endif()
  if(NOT domain IN_LIST domains)
    list(APPEND domains ${domain})
    set(store_${domain} "${initial}${rest}RuntimeData")
    set(enum_${domain} "${enum}")
    set(rows_${domain} "")
  endif()
  string(APPEND rows_${domain}
    "| ${number} | ${name} | `${valueType}` | ${where} | ${reset} | ${compared} | ${secret} | ${settable} | \\copybrief ${enum}::${name} |\n")
endforeach()
file(MAKE_DIRECTORY "${OUT}")
foreach(domain ${domains})
  file(WRITE "${OUT}/${domain}.md"
"# ${store_${domain}} properties {#${domain}_properties}

The properties of ${store_${domain}}, read with `getData<Type, ${enum_${domain}}::Name>()` and
written with `setData<Type, ${enum_${domain}}::Name>(value)`, in the order of the record's
table (the order of the stored entries). Generated from the property tables.

- **stored**: the part and key the value is stored under, or run only;
- **reset**: what a reset does (drop: back to its default; empty: a held data set is
  emptied in place; keep: it stays);
- **compared**: whether the record's `operator==` compares it;
- **secret**: whether tools keep its value to themselves;
- **settable**: whether `setData` changes it (derived and whole-record properties: no).

| number | name | type | stored | reset | compared | secret | settable | description |
|---:|---|---|---|---|---|---|---|---|
${rows_${domain}}")
endforeach()
