-- What a PostgreSQL server holds beyond schema.sql, which it runs as well
-- with two translations (db::createSchema): the identity column of
-- abonados_eventos, and local "now" as the default of the date columns,
-- which compare byte by byte (collation "C") so that text order is time
-- order as in the file.

-- Spanish order; the file engine registers a collation of the same name.
CREATE COLLATION IF NOT EXISTS espanol (provider = icu, locale = 'es-ES');

-- Who holds a subscriber's panel connection, for the other stations to see.
-- The lock itself is the server's advisory lock of the holder's session,
-- which ends with that session: a row whose lock is gone is stale.
CREATE TABLE bloqueos (
  id_abonado INTEGER PRIMARY KEY,
  operador   TEXT NOT NULL,
  estacion   TEXT NOT NULL,
  desde      TEXT COLLATE "C" NOT NULL
);
