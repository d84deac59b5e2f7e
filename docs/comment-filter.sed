# SPDX-License-Identifier: MIT
# The headers explain themselves in plain // comments; this turns them into
# documentation comments for the reference, leaving the sources as they are.
# The licence line at the top of each file documents nothing; it stays an empty line.
s|^// SPDX-License-Identifier:.*$||
# A namespace's closing comment names the namespace; it documents nothing.
/^[[:space:]]*}[[:space:]]*\/\/ namespace/b
# Whole-line comments document what follows them.
s|^\([[:space:]]*\)//\([^/!]\)|\1///\2|
s|^\([[:space:]]*\)//$|\1///|
# "#define" in prose is an example, not a link to a symbol.
/^[[:space:]]*\/\/\//s|#\([a-z]\)|\\#\1|g
# A comment after a declaration or an enumerator documents that line.
s|\([;,{}]\)\([[:space:]]*\)//\([^/!<]\)|\1\2///<\3|
# Defaulted and deleted special members say all there is to say in their
# declaration; they stay out of the reference.
/^[^/]*= *\(default\|delete\);[[:space:]]*$/s|^\(.*\)$|/** \\cond */ \1 /** \\endcond */|
