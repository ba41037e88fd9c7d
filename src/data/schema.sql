-- Station database. Dates are ISO-8601 local text "yyyy-MM-dd HH:mm:ss" so that
-- text order is time order. Foreign keys carry the cascades and the refusal to
-- delete a template still used by a subscriber.

CREATE TABLE paneles (
  id_panel      INTEGER PRIMARY KEY,
  codigo        TEXT NOT NULL,
  version       TEXT NOT NULL,
  cadena        TEXT NOT NULL,
  id_seccionpwd INTEGER NOT NULL
);

CREATE TABLE secciones (
  id_panel    INTEGER NOT NULL REFERENCES paneles(id_panel),
  id_seccion  INTEGER NOT NULL,
  tipo        INTEGER NOT NULL,
  long        INTEGER NOT NULL,
  caracteres  INTEGER,
  posicion    INTEGER NOT NULL,
  descripcion TEXT NOT NULL,
  filler      TEXT,
  -- 1: its values are codes, shown only to operators who may see codes.
  secreta     INTEGER NOT NULL DEFAULT 0,
  PRIMARY KEY (id_panel, id_seccion)
);

CREATE TABLE secciones_items (
  id_panel    INTEGER NOT NULL,
  id_seccion  INTEGER NOT NULL,
  id_item     INTEGER NOT NULL,
  descripcion TEXT NOT NULL,
  PRIMARY KEY (id_panel, id_seccion, id_item),
  FOREIGN KEY (id_panel, id_seccion) REFERENCES secciones(id_panel, id_seccion)
);

CREATE TABLE secciones_valores (
  id_panel    INTEGER NOT NULL,
  id_seccion  INTEGER NOT NULL,
  id_valor    TEXT NOT NULL,
  descripcion TEXT,
  PRIMARY KEY (id_panel, id_seccion, id_valor),
  FOREIGN KEY (id_panel, id_seccion) REFERENCES secciones(id_panel, id_seccion)
);

CREATE TABLE configuraciones (
  id_configuracion INTEGER PRIMARY KEY,
  descripcion      TEXT NOT NULL
);

CREATE TABLE configuraciones_valores (
  id_configuracion INTEGER NOT NULL REFERENCES configuraciones(id_configuracion) ON DELETE CASCADE,
  id_panel         INTEGER NOT NULL,
  id_seccion       INTEGER NOT NULL,
  id_item          INTEGER NOT NULL,
  valor            TEXT,
  id_estado        INTEGER NOT NULL DEFAULT 0,
  PRIMARY KEY (id_configuracion, id_panel, id_seccion, id_item)
);
CREATE INDEX configuraciones_valores_panel ON configuraciones_valores(id_panel, id_configuracion, id_seccion);

CREATE TABLE provincias (
  id_provincia INTEGER PRIMARY KEY,
  descripcion  TEXT NOT NULL
);

CREATE TABLE contactos (
  id_contacto INTEGER PRIMARY KEY,
  descripcion TEXT NOT NULL
);

CREATE TABLE abonados (
  id_abonado       INTEGER PRIMARY KEY,
  codigo           TEXT NOT NULL,
  id_panel         INTEGER NOT NULL REFERENCES paneles(id_panel),
  id_configuracion INTEGER NOT NULL REFERENCES configuraciones(id_configuracion) ON DELETE RESTRICT,
  apellido         TEXT NOT NULL,
  nombre           TEXT NOT NULL,
  calle            TEXT NOT NULL,
  numero           TEXT NOT NULL,
  piso             TEXT,
  depto            TEXT,
  localidad        TEXT NOT NULL,
  id_provincia     INTEGER NOT NULL REFERENCES provincias(id_provincia),
  cp               TEXT,
  tel_1            TEXT NOT NULL,
  tel_2            TEXT,
  ref_contacto1    TEXT,
  id_contacto1     INTEGER REFERENCES contactos(id_contacto),
  tel_contacto1    TEXT,
  ref_contacto2    TEXT,
  id_contacto2     INTEGER REFERENCES contactos(id_contacto),
  tel_contacto2    TEXT,
  ref_contacto3    TEXT,
  id_contacto3     INTEGER REFERENCES contactos(id_contacto),
  tel_contacto3    TEXT,
  observaciones    TEXT,
  id_grupo         INTEGER
);
CREATE INDEX abonados_apellido ON abonados(apellido);
CREATE INDEX abonados_grupo ON abonados(id_grupo);

CREATE TABLE abonados_valores (
  id_abonado INTEGER NOT NULL REFERENCES abonados(id_abonado) ON DELETE CASCADE,
  id_seccion INTEGER NOT NULL,
  id_item    INTEGER NOT NULL,
  valor      TEXT,
  id_estado  INTEGER NOT NULL DEFAULT 0,
  PRIMARY KEY (id_abonado, id_seccion, id_item)
);

CREATE TABLE eventos (
  id_panel    INTEGER NOT NULL,
  id_tipo     INTEGER NOT NULL,
  id_evento   INTEGER NOT NULL,
  descripcion TEXT NOT NULL,
  PRIMARY KEY (id_panel, id_tipo, id_evento)
);

CREATE TABLE abonados_eventos (
  orden      INTEGER PRIMARY KEY AUTOINCREMENT,
  id_abonado INTEGER NOT NULL REFERENCES abonados(id_abonado) ON DELETE CASCADE,
  id_panel   INTEGER NOT NULL,
  id_evento  INTEGER NOT NULL,
  parametro  INTEGER NOT NULL,
  fecha      TEXT NOT NULL DEFAULT (strftime('%Y-%m-%d %H:%M:%S', 'now', 'localtime')),
  id_tipo    INTEGER NOT NULL
);
CREATE INDEX abonados_eventos_abonado ON abonados_eventos(id_abonado, fecha);
-- The console lists a subscriber's events newest first by orden.
CREATE INDEX abonados_eventos_orden ON abonados_eventos(id_abonado, orden);

CREATE TABLE configuracion (
  id_configuracion INTEGER PRIMARY KEY,
  modem_port       INTEGER NOT NULL,
  modem_mode       TEXT NOT NULL,
  tel_1            TEXT,
  tel_2            TEXT,
  tel_3            TEXT,
  ip_port          INTEGER NOT NULL,
  -- Panel addresses or networks allowed to call over IP (empty: any), and the
  -- address the datagram socket binds (empty: every interface).
  ip_permitidas    TEXT,
  ip_escucha       TEXT,
  -- Uploads are read back from the panel and compared (1) or not (0).
  verificar_subidas INTEGER NOT NULL DEFAULT 1,
  -- This station runs the job queue (1) or not; on a server each station's
  -- own choice is in configuracion_estaciones.
  tareas_estacion  INTEGER NOT NULL DEFAULT 0,
  -- The health view lists subscribers without a download for this many days.
  dias_atencion    INTEGER NOT NULL DEFAULT 7
);

-- On a shared server each station's own port settings, by station name; a
-- station without a row uses those of configuracion. A file does not use it.
CREATE TABLE configuracion_estaciones (
  estacion      TEXT PRIMARY KEY,
  modem_port    INTEGER NOT NULL,
  modem_mode    TEXT NOT NULL,
  ip_port       INTEGER NOT NULL,
  ip_permitidas TEXT,
  ip_escucha    TEXT,
  tareas_estacion INTEGER NOT NULL DEFAULT 0
);

-- password holds an Argon2id hash. id_perfil NULL: the built-in profile of
-- the account's nivel. bloqueado_hasta: refused until then after too many
-- failed logins.
CREATE TABLE usuarios (
  id_usuario      INTEGER PRIMARY KEY,
  usuario         TEXT NOT NULL,
  password        TEXT NOT NULL,
  nivel           INTEGER NOT NULL,
  id_perfil       INTEGER,
  bloqueado_hasta TEXT
);

-- Rights by function, one bit each (permissions.h); 1 to 3 are the levels.
CREATE TABLE perfiles (
  id_perfil INTEGER PRIMARY KEY,
  nombre    TEXT NOT NULL,
  derechos  INTEGER NOT NULL
);

-- Groups of subscribers, and the groups an operator is limited to (none:
-- all). A deleted group stays in an operator's list: it then sees nothing
-- of it rather than everything.
CREATE TABLE grupos (
  id_grupo    INTEGER PRIMARY KEY,
  codigo      TEXT NOT NULL UNIQUE,
  descripcion TEXT NOT NULL
);
CREATE TABLE usuarios_grupos (
  id_usuario INTEGER NOT NULL,
  id_grupo   INTEGER NOT NULL,
  PRIMARY KEY (id_usuario, id_grupo)
);

-- Failed logins by account, kept on the database so that every station of a
-- server counts them.
CREATE TABLE usuarios_fallos (
  id_usuario INTEGER NOT NULL,
  fecha      TEXT NOT NULL,
  estacion   TEXT
);
CREATE INDEX usuarios_fallos_usuario ON usuarios_fallos(id_usuario, fecha);

CREATE TABLE operaciones (
  id_operacion INTEGER PRIMARY KEY,
  descripcion  TEXT NOT NULL
);

CREATE TABLE usuarios_operaciones (
  id_usuario   INTEGER NOT NULL,
  id_operacion INTEGER NOT NULL,
  parametro    TEXT,
  fecha        TEXT NOT NULL DEFAULT (strftime('%Y-%m-%d %H:%M:%S', 'now', 'localtime'))
);
CREATE INDEX usuarios_operaciones_fecha ON usuarios_operaciones(fecha);

-- The last panel memory the station knows to be true for each subscriber
-- (read from the panel, or verified after a write): 5001 bytes, and 5001
-- flags that say which of them are known.
CREATE TABLE abonados_imagen (
  id_abonado INTEGER PRIMARY KEY REFERENCES abonados(id_abonado) ON DELETE CASCADE,
  fecha      TEXT NOT NULL,
  memoria    BLOB NOT NULL,
  conocida   BLOB NOT NULL
);
-- Every change of a programming value, and every value an upload sent: no
-- foreign keys, so that the history outlives the subscriber or template
-- (borrado = 1 then) until it is purged. One of id_abonado and
-- id_configuracion is set.
CREATE TABLE valores_historial (
  id_historial     INTEGER PRIMARY KEY,
  fecha            TEXT NOT NULL,
  id_abonado       INTEGER,
  id_configuracion INTEGER,
  id_panel         INTEGER NOT NULL,
  id_seccion       INTEGER NOT NULL,
  id_item          INTEGER NOT NULL,
  valor_anterior   TEXT,
  valor_nuevo      TEXT,
  origen           TEXT NOT NULL,
  id_usuario       INTEGER,
  borrado          INTEGER NOT NULL DEFAULT 0
);
-- The history window reads one subscriber's or template's rows by time; each
-- row goes into one of the two indexes only, which keeps writing it cheap.
CREATE INDEX valores_historial_abonado ON valores_historial(id_abonado, fecha) WHERE id_abonado IS NOT NULL;
CREATE INDEX valores_historial_configuracion ON valores_historial(id_configuracion, id_panel, fecha)
  WHERE id_configuracion IS NOT NULL;

-- Jobs ("Tareas"): actions on many panels, run by the queue. acciones lists
-- the action codes in the order they run ("hora,eventos,comparar,cambios,
-- marcados"); alcance is how the panel is reached (0 a dial, 1 a double
-- call, 2 a dial that asks for the IP call-back). The subscribers are the
-- rows of tareas_abonados or, with por_filtro = 1, those the filter columns
-- select when a run starts. programa and ventana are texts the station reads
-- ("ahora", "una vez 2026-12-08 22:00", "cada 1 días a las 22:00";
-- "22:00-06:00"); proxima is when the next run starts, null when none. A job
-- with results is only marked borrada, so that its results keep their name.
CREATE TABLE tareas (
  id_tarea             INTEGER PRIMARY KEY AUTOINCREMENT,
  nombre               TEXT NOT NULL,
  acciones             TEXT NOT NULL,
  alcance              INTEGER NOT NULL DEFAULT 0,
  por_filtro           INTEGER NOT NULL DEFAULT 0,
  filtro_panel         INTEGER,
  filtro_configuracion INTEGER,
  filtro_desde         TEXT,
  filtro_hasta         TEXT,
  filtro_dias          INTEGER,
  programa             TEXT NOT NULL,
  ventana              TEXT,
  intentos_seguidos    INTEGER NOT NULL DEFAULT 2,
  intentos_mas         INTEGER NOT NULL DEFAULT 6,
  espera_minutos       INTEGER NOT NULL DEFAULT 10,
  proxima              TEXT,
  borrada              INTEGER NOT NULL DEFAULT 0,
  filtro_grupo         INTEGER
);
-- No key to abonados: a subscriber deleted meanwhile is recorded as such.
CREATE TABLE tareas_abonados (
  id_tarea   INTEGER NOT NULL REFERENCES tareas(id_tarea) ON DELETE CASCADE,
  id_abonado INTEGER NOT NULL,
  PRIMARY KEY (id_tarea, id_abonado)
);
-- The groups of the operator who saved the job (no rows: all), to which its
-- runs are limited. No key to grupos: a group deleted later reaches nobody.
CREATE TABLE tareas_grupos (
  id_tarea INTEGER NOT NULL REFERENCES tareas(id_tarea) ON DELETE CASCADE,
  id_grupo INTEGER NOT NULL,
  PRIMARY KEY (id_tarea, id_grupo)
);
-- One row per subscriber and run. estado: 'pendiente', 'en curso', 'hecha',
-- 'fallida', 'cerrada'; intentos counts the tries made; proximo is when the
-- next try may start; reclamo names the runner that holds the item.
CREATE TABLE tareas_cola (
  id_cola    INTEGER PRIMARY KEY AUTOINCREMENT,
  id_tarea   INTEGER NOT NULL REFERENCES tareas(id_tarea) ON DELETE CASCADE,
  corrida    TEXT NOT NULL,
  id_abonado INTEGER NOT NULL,
  estado     TEXT NOT NULL DEFAULT 'pendiente',
  intentos   INTEGER NOT NULL DEFAULT 0,
  proximo    TEXT NOT NULL,
  reclamo    TEXT,
  cerrado    TEXT
);
CREATE INDEX tareas_cola_proximo ON tareas_cola(estado, proximo);
-- One row per try (and one "sin abonados" row for a run that found none).
-- descarga = 1: the try downloaded the panel's events.
CREATE TABLE tareas_resultados (
  id_resultado INTEGER PRIMARY KEY AUTOINCREMENT,
  id_tarea     INTEGER NOT NULL,
  id_cola      INTEGER,
  id_abonado   INTEGER,
  intento      INTEGER NOT NULL DEFAULT 0,
  inicio       TEXT NOT NULL,
  fin          TEXT NOT NULL,
  estacion     TEXT NOT NULL,
  resultado    TEXT NOT NULL,
  detalle      TEXT,
  eventos      INTEGER NOT NULL DEFAULT 0,
  diferencias  INTEGER NOT NULL DEFAULT 0,
  secciones    INTEGER NOT NULL DEFAULT 0,
  descarga     INTEGER NOT NULL DEFAULT 0
);
CREATE INDEX tareas_resultados_abonado ON tareas_resultados(id_abonado, fin);
CREATE INDEX tareas_resultados_tarea ON tareas_resultados(id_tarea, id_resultado);
