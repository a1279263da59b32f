# Writes a C source holding the bytes of IN as the array SYMBOL.
file(READ ${IN} hex HEX)
string(LENGTH "${hex}" hex_len)
math(EXPR size "${hex_len} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
file(WRITE ${OUT} "#include <stddef.h>\nconst unsigned char ${SYMBOL}[] = {${bytes}};\nconst size_t ${SYMBOL}_size = ${size};\n")
