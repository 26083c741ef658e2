/*
 * Declarations in the form of the third-party library's script, for testing the
 * embedding: real 'ib_udf' entry points under names beginning F_.
 */
SET SQL DIALECT 3;

DECLARE EXTERNAL FUNCTION F_TEST_STRLEN
  CSTRING(32767)
  RETURNS INTEGER BY VALUE
  ENTRY_POINT 'IB_UDF_strlen' MODULE_NAME 'ib_udf';

DECLARE EXTERNAL FUNCTION F_TEST_DIV
  INTEGER, INTEGER
  RETURNS DOUBLE PRECISION BY VALUE
  ENTRY_POINT 'IB_UDF_div' MODULE_NAME 'ib_udf';
