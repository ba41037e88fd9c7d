#include "big_subscriber.h"

#include "app/station.h"
#include "bench.h"
#include "data/db.h"

void seedBigSubscriber(bool allForUpload)
{
    QSqlDatabase c = bench::station().main.db();
    db::Transaction t(c);
    db::exec(c, "INSERT INTO paneles VALUES (9, 'BIG', '1', '2', 0)");
    db::exec(c, "WITH RECURSIVE k(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM k WHERE i < 99) "
                "INSERT INTO secciones (id_panel, id_seccion, tipo, long, posicion, descripcion) "
                "SELECT 9, i, 2, 0, i * 32, 'Sección de prueba ' || i FROM k");
    db::exec(c, "WITH RECURSIVE k(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM k WHERE i < 30) "
                "INSERT INTO secciones_items (id_panel, id_seccion, id_item, descripcion) "
                "SELECT 9, s.id_seccion, k.i, 'Descripción del item ' || k.i FROM secciones s, k WHERE s.id_panel = 9");
    db::exec(c, "INSERT INTO abonados (id_abonado, codigo, id_panel, id_configuracion, apellido, nombre, calle, numero, "
                "localidad, id_provincia, tel_1) VALUES (1, '0001', 9, 1, 'APELLIDO', 'NOMBRE', 'CALLE', '1', 'LOCALIDAD', 1, '555')");
    db::exec(c, "INSERT INTO abonados_valores (id_abonado, id_seccion, id_item, valor, id_estado) "
                "SELECT 1, id_seccion, id_item, printf('%02X', id_item), CASE WHEN ? THEN 1 ELSE (id_item % 3) - 1 END "
                "FROM secciones_items WHERE id_panel = 9",
             {allForUpload ? 1 : 0});
    t.commit();
}
