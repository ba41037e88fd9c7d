-- Reference rows a new station database is delivered with.

INSERT INTO operaciones (id_operacion, descripcion) VALUES
 (1, 'INGRESO AL SISTEMA'),
 (2, 'SALIDA DEL SISTEMA Y COMPACTACIÓN'),
 (3, 'LLAMADA AL PANEL'),
 (4, 'FIN DE COMUNICACIÓN'),
 (5, 'SUBIDA DE VALORES MARCADOS'),
 (6, 'BAJADA DE VALORES MARCADOS'),
 (7, 'BAJADA DE EVENTOS'),
 (8, 'ARMADO'),
 (9, 'DESARMADO'),
 (10, 'ANULACIÓN DE ZONA'),
 (11, 'HABILITACIÓN DE ZONA'),
 (12, 'PÁNICO'),
 (13, 'PUESTA EN HORA DEL PANEL'),
 (14, 'RESERVADO'),
 (15, 'SALIDA PGM'),
 (16, 'CONSULTA DE FALLAS');

INSERT INTO provincias (id_provincia, descripcion) VALUES
 (1, 'BUENOS AIRES'), (2, 'CAPITAL FEDERAL'), (3, 'CATAMARCA'), (4, 'CHACO'),
 (5, 'CHUBUT'), (6, 'CÓRDOBA'), (7, 'CORRIENTES'), (8, 'ENTRE RÍOS'),
 (9, 'FORMOSA'), (10, 'JUJUY'), (11, 'LA PAMPA'), (12, 'LA RIOJA'),
 (13, 'MENDOZA'), (14, 'MISIONES'), (15, 'NEUQUÉN'), (16, 'RÍO NEGRO'),
 (17, 'SALTA'), (18, 'SAN JUAN'), (19, 'SAN LUIS'), (20, 'SANTA CRUZ'),
 (21, 'SANTA FE'), (22, 'SANTIAGO DEL ESTERO'), (23, 'TIERRA DEL FUEGO'),
 (24, 'TUCUMÁN');

INSERT INTO contactos (id_contacto, descripcion) VALUES
 (1, 'TITULAR'), (2, 'FAMILIAR'), (3, 'VECINO'), (4, 'ENCARGADO'),
 (5, 'EMPLEADO'), (6, 'POLICÍA'), (7, 'OTRO');

-- No serial port by default: a machine without a modem starts cleanly.
INSERT INTO configuracion (id_configuracion, modem_port, modem_mode, tel_1, tel_2, tel_3, ip_port)
 VALUES (1, 1, 'Sin Puerto Com', NULL, NULL, NULL, 5000);

INSERT INTO configuraciones (id_configuracion, descripcion) VALUES (1, 'CONFIGURACIÓN DE FÁBRICA');

-- The factory password 1234, hashed; the first login asks for another.
INSERT INTO usuarios (id_usuario, usuario, password, nivel) VALUES (1, 'ADMINISTRADOR',
  '$argon2id$v=19$m=65536,t=2,p=1$v4TOHlgT44wD/b7bkR402Q$EIO0Jt0QDR1JaFfr57vuCni1xFt2are+Am2P3MKA/08', 1);
